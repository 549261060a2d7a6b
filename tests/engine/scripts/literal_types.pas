var a: Integer; b: Int64;
begin
  Print(Int64ToStr(High(2147483647)) + ' ' + Int64ToStr(High(2147483648)) + ' ' + Int64ToStr(High(4294967296)));
  Print(IntToStr(SizeOf(4294967296)) + IntToStr(SizeOf(2147483648)));
  a := -2147483647 - 1;
  a := a div -1;
  Print(IntToStr(a));
  b := -9223372036854775807 - 1;
  b := b div -1;
  Print(Int64ToStr(b));
end.
