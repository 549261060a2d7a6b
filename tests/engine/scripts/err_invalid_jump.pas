label L;
var i: Integer;
begin
  goto L;
  for i := 1 to 2 do
  begin
    L: i := i;
  end;
end.
