var x: Integer;
begin
  x := 3;
  if x > 1 and x < 5 then Print('in');
end.
