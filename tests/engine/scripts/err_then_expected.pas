var x: Integer;
begin
  if x = 1 x := 2;
end.
