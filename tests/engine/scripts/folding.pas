var
  i: Integer;
  e: Extended;
  i64: Int64;
  w: LongWord;
  b: Boolean;
begin
  i := 7 / 2;
  Print(IntToStr(i));
  e := 7 / 2.0;
  Print(FloatToStr(e));
  i := -2 * 3;
  Print(IntToStr(i));
  i64 := 4294967296;
  Print(Int64ToStr(i64));
  w := 2147483648;
  Print(Int64ToStr(w));
  b := (1 = 1) = True;
  if b then Print('chained equal');
  i := $FF shl 4;
  Print(IntToStr(i));
  i := 17 mod 5 + (17 div 5) * 10;
  Print(IntToStr(i));
  i := not 0;
  Print(IntToStr(i));
  if not (2 > 3) then Print('not folded');
  i := -(-2147483647 - 1) div -1;
  Print(IntToStr(i));
end.
