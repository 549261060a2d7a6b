begin
  break;
end.
