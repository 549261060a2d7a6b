var x: Integer;
begin
  x := 10 div (5 - 5);
end.
