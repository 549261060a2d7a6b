var x: Integer;
begin
  x := (1 + 2;
end.
