var a: array of Integer;
begin
  SetLength(a, 2);
  a[0 := 1;
end.
