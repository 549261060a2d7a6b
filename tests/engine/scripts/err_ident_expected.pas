var x: Integer;
begin
  if x = 1 then x := 2;
  else x := 3;
end.
