{ Copy and Pos over every string width, mixed widths, characters and the edges of their ranges. }
var
  u, e: string;
  a, ae: AnsiString;
  w: WideString;
  c: Char;
  f: Integer;
begin
  u := 'héllo,wörld'; a := 'abc,déf'; w := 'wide,text'; c := ','; e := ''; ae := '';
  for f := -1 to 13 do
    Print(IntToStr(f) + ' [' + Copy(u, f, 3) + '][' + Copy(a, f, 3) + '][' + Copy(w, f, 3) + '][' + Copy(c, f, 1) +
          '][' + Copy(e, f, 2) + '][' + Copy(ae, f, 2) + ']');
  Print('[' + Copy(u, 3, 0) + '][' + Copy(u, 3, -5) + '][' + Copy(u, 3, 2147483647) + '][' + Copy(a, 2, 2147483647) +
        '][' + Copy(u, -2147483647, 4) + ']');
  a := Copy(a, 2, 4); u := Copy(u, 2, 100); w := Copy(w, 1, 4);
  Print(a + '|' + u + '|' + w);
  Print(IntToStr(Pos(',', u)) + ' ' + IntToStr(Pos(',', a)) + ' ' + IntToStr(Pos(c, w)) + ' ' + IntToStr(Pos('', u)) +
        ' ' + IntToStr(Pos(ae, a)) + ' ' + IntToStr(Pos(e, w)) + ' ' + IntToStr(Pos('wö', u)) + ' ' +
        IntToStr(Pos(a, 'xbc,dé')) + ' ' + IntToStr(Pos(u, u)) + ' ' + IntToStr(Pos('zz', a)) + ' ' +
        IntToStr(Pos('ö', u + a)) + ' ' + IntToStr(Pos('é', a)));
  { Characters by position from each end, and one past the end. }
  u := 'añb€'; w := u; a := 'x,y';
  Print(u[1] + u[2] + u[Length(u)] + w[1] + w[Length(w)] + a[2] + IntToStr(Ord(u[4])) + IntToStr(Ord(w[2])));
  Print(w[Length(w) + 1]);
end.
