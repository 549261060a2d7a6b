begin
  (5);
end.
