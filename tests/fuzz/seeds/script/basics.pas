var
  i, j: Integer;
  s: string;
begin
  i := 7 / 2;
  Print(IntToStr(i));
  j := i * 3 + 1;
  Print(IntToStr(j));
  s := 'abc' + 'def';
  Print(s);
  if j > 10 then Print('big') else Print('small');
end.
