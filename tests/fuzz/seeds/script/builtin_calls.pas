var
  s: string;
  a: array of Integer;
begin
  s := Copy('abcdef', 2, 3);
  SetLength(s, 5);
  Insert('x', s, 2);
  Delete(s, 1, 1);
  StrSet('q', 1, s);
  SetLength(a, 3);
  a[2] := Length(s) + Pos('c', s) + Length(a);
  Writeln(IntToStr(a[2]) + StrGet(s, 1) + UpperCase(s) + Format('%d', [a[2]]));
end.
