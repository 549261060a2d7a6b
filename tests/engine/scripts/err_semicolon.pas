var x: Integer;
begin
  x := 1
  x := 2;
end.
