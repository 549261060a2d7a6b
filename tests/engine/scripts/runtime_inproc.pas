procedure Check(const s: string);
begin
  if Length(s) > 2 then
    Print(s[10]);
end;

begin
  Check('ab');
  Check('abc');
end.
