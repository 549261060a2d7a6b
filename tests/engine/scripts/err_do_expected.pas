var x: Integer;
begin
  while x < 1 x := 2;
end.
