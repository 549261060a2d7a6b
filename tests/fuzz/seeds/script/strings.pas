var
  s, t: string;
  a: AnsiString;
  c: Char;
  i: Integer;
begin
  s := 'Hello';
  s := s + ', ' + 'World';
  Print(s);
  Print(Copy(s, 1, 5));
  Print(IntToStr(Pos('World', s)));
  t := s;
  Delete(t, 6, 7);
  Print(t);
  Insert(' there', t, 6);
  Print(t);
  Print(Trim('  padded  ') + '|');
  Print(Uppercase('abc') + Lowercase('DEF'));
  Print(IntToStr(Length(s)));
  s[1] := 'J';
  Print(s);
  c := s[2];
  Print(c);
  a := 'ansi';
  a[1] := 'A';
  Print(a + IntToStr(Length(a)));
  t := '';
  for i := 1 to Length(a) do t := t + a[i] + '-';
  Print(t);
  if 'a'#13#10'b' = 'a' + #13 + #10 + 'b' then Print('True');
  Print(Padl('7', 3) + '|' + Padr('7', 3) + '|' + Padz('7', 3) + '|' + Padl('abcd', 2));
  Print(Replicate('x', 3) + StringOfChar('y', 2) + Replicate('z', -1));
  Print(IntToStr(StrToInt('12a')) + ' ' + IntToStr(StrToIntDef('12a', 7)) + ' ' + IntToStr(StrToInt(' 42 ')));
  Print(IntToStr(5000000000) + ' ' + Int64ToStr(5000000000));
  Print(FloatToStr(2) + ' ' + FloatToStr(1.5));
  Print(IntToStr(Round(0.5)) + IntToStr(Round(1.5)) + IntToStr(Round(2.5)) + IntToStr(Round(3.5)));
  Print(IntToStr(Trunc(-2.7)));
  Print(FloatToStr(StrToFloat('1.5')));
end.
