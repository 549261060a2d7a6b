begin
  Print('a', 'b');
end.
