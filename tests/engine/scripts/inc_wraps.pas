var
  i: Int64;
  n: Integer;
  b: Byte;
  v: Variant;
begin
  i := 9223372036854775807;
  Inc(i);
  Print(Int64ToStr(i));
  Dec(i);
  Print(Int64ToStr(i));
  n := 2147483647;
  Inc(n);
  Print(IntToStr(n));
  b := 0;
  Dec(b);
  Print(IntToStr(b));
  v := i;
  Inc(v);
  Print(Int64ToStr(v));
end.
