procedure P(var x: Integer);
begin
end;
begin
  P(1 + 2);
end.
