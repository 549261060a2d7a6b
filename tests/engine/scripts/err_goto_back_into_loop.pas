label Again;
var i: Integer;
begin
  for i := 1 to 2 do
  begin
    Again: Print('in');
  end;
  if i < 5 then goto Again;
end.
