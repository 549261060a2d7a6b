type TStep = procedure(var a: Integer);
var p: TStep;
procedure ByValue(a: Integer);
begin
  a := 99;
end;
begin
  p := @ByValue;
end.
