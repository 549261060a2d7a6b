var x: Integer;
procedure P;
begin
end;
begin
  x := P;
end.
