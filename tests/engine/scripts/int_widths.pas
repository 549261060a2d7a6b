{ Integer operations compute in the wider operand's type; two 32-bit
  operands keep their 32-bit wrap-around. }
var
  x, z: Int64;
  i, k: Integer;
  c: Cardinal;
  bt: Byte;
  w: Word;
  si: ShortInt;
  steps: Integer;
const
  Big = 5000000000;
  Folded = 3 * Big + 1;
begin
  x := 3000000000;
  Print('3 * x + 1 = ' + IntToStr(3 * x + 1));
  i := 2;
  Print('i * x = ' + IntToStr(i * x));
  Print('1 + x = ' + IntToStr(1 + x));
  Print('i - x = ' + IntToStr(i - x));
  Print('x div i = ' + IntToStr(x div i));
  Print('7000000001 mod i = ' + IntToStr(7000000001 mod i));
  Print('folded constant = ' + IntToStr(Folded));
  Print('i or x = ' + IntToStr(i or x));
  z := 27; steps := 0;
  while z <> 1 do
  begin
    if z mod 2 = 0 then z := z div 2 else z := 3 * z + 1;
    steps := steps + 1;
  end;
  Print('Collatz steps of 27: ' + IntToStr(steps));
  if i < x then Print('i < x') else Print('i >= x');
  if 1 < x then Print('1 < x') else Print('1 >= x');
  c := 4000000000; k := -1;
  if k < c then Print('-1 < 4000000000') else Print('-1 >= 4000000000');
  if c > k then Print('4000000000 > -1') else Print('4000000000 <= -1');
  if x > c then Print('3000000000 > 4000000000') else Print('3000000000 <= 4000000000');
  Print('k + 3000000000 = ' + IntToStr(k + 3000000000));
  Print('c + k = ' + IntToStr(c + k));
  bt := 200;
  Print('bt + bt = ' + IntToStr(bt + bt));
  w := 65535; si := -1;
  Print('w * si = ' + IntToStr(w * si));
  k := 2147483647;
  k := k + 1;
  Print('Integer wraps: ' + IntToStr(k));
  k := 2000000000;
  { 64-bit Free Pascal computes this one in Int64. }
  Print('two Integers wrap: ' + IntToStr(k + k));
end.
