var
  i, n: Integer;
  b: Byte;
  s: string;
begin
  n := 0;
  for i := 1 to 3 do n := n + i;
  Print('sum ' + IntToStr(n) + ' counter ' + IntToStr(i));
  for i := 1 to 0 do Print('never');
  Print('empty loop counter ' + IntToStr(i));
  s := '';
  for i := 5 downto 3 do s := s + IntToStr(i);
  Print(s + ' ' + IntToStr(i));
  n := 0;
  for b := 250 to 255 do n := n + 1;
  Print('byte loop ' + IntToStr(n));
  i := 0;
  while i < 10 do
  begin
    i := i + 1;
    if i = 3 then continue;
    if i = 6 then break;
    s := s + '.';
  end;
  Print(s + ' ' + IntToStr(i));
  i := 0;
  repeat
    i := i + 2;
  until i >= 7;
  Print('repeat ' + IntToStr(i));
  n := 0;
  for i := 1 to 10 do
  begin
    case i of
      2: continue;
      5: break;
    end;
    n := n + i;
  end;
  Print('case in loop ' + IntToStr(n) + ' ' + IntToStr(i));
end.
