{ Bounds of enumeration values, characters of strings that are not
  variables, real division of variants, procedural values of the right
  signature, and SetLength on a shared array. }
type
  TColour = (Red, Green, Blue);
  TStep = procedure(var a: Integer);
  TCalc = function(a: Integer): Integer;
var
  e: TColour;
  b: Boolean;
  i, n, z: Integer;
  s, t: string;
  L: TStringList;
  v1, v2, v3: Variant;
  p: TStep;
  f: TCalc;
  a, c: array of Integer;

procedure AddOne(var a: Integer);
begin
  a := a + 1;
end;

function Twice(a: Integer): Integer;
begin
  Result := a * 2;
end;

begin
  n := 0;
  for i := Ord(Low(e)) to Ord(High(e)) do n := n + 1;
  Print('values of e: ' + IntToStr(n));
  Print('High(b) = ' + IntToStr(High(b)) + ', Low(b) = ' + IntToStr(Low(b)));
  Print('High(e) = ' + IntToStr(High(e)) + ', High(TColour) = ' + IntToStr(High(TColour)));

  s := 'abc';
  Print('UpperCase(s)[2] = ' + UpperCase(s)[2]);
  Print('Copy(s, 2, 2)[1] = ' + Copy(s, 2, 2)[1]);
  L := TStringList.Create;
  L.Add('first');
  L.Add('second');
  t := L[0][1] + L.Strings[1][2];
  Print('L[0][1] + L.Strings[1][2] = ' + t);
  L.Free;

  v1 := 7; v2 := 2;
  v3 := v1 / v2;
  Print('7 / 2 = ' + FloatToStr(v3));
  v3 := v1 div v2;
  Print('7 div 2 = ' + IntToStr(v3));
  i := 7;
  v3 := i / v2;
  Print('Integer 7 / 2 = ' + FloatToStr(v3));

  z := 1;
  p := @AddOne; p(z);
  p := AddOne; p(z);
  f := @Twice;
  Print('procedural values: ' + IntToStr(z) + ' ' + IntToStr(f(z)));

  SetLength(a, 2); a[0] := 7; c := a;
  SetLength(c, 2); c[0] := 1;
  Print('a[0] = ' + IntToStr(a[0]) + ', c[0] = ' + IntToStr(c[0]));
  c := a;
  c := [5, 6];
  Print('after a constructor: a[0] = ' + IntToStr(a[0]) + ', c[0] = ' + IntToStr(c[0]));
end.
