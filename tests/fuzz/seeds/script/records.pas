type
  TPoint = record
    X, Y: Integer;
  end;
  TLine = record
    A, B: TPoint;
    Name: string;
  end;
  TArr = array of Integer;
  TStatic = array[1..5] of TPoint;
  TColor = (Red, Green, Blue);
  TColors = set of TColor;
var
  p: TPoint;
  l: TLine;
  a: TArr;
  st: TStatic;
  lines: array of TLine;
  i, k: Integer;
  c: TColor;
  cs: TColors;
  s: string;

procedure Swap(var x, y: Integer);
var t: Integer;
begin
  t := x; x := y; y := t;
end;

function Sum(const v: array of Integer): Integer;
var j: Integer;
begin
  Result := 0;
  for j := 0 to High(v) do Result := Result + v[j];
end;

begin
  p.X := 3; p.Y := 4;
  l.A := p;
  l.B.X := 10; l.B.Y := l.A.Y * 2;
  l.Name := 'line';
  Print(l.Name + ' ' + IntToStr(l.A.X) + ',' + IntToStr(l.A.Y) + ' ' + IntToStr(l.B.X) + ',' + IntToStr(l.B.Y));
  SetLength(a, 5);
  for i := 0 to 4 do a[i] := i * i;
  k := 2;
  a[k + 1] := a[k] + 100;
  Print(IntToStr(Length(a)) + ' ' + IntToStr(a[3]) + ' ' + IntToStr(High(a)) + ' ' + IntToStr(Low(a)));
  for i := 1 to 5 do begin st[i].X := i; st[i].Y := -i; end;
  k := 4;
  Print(IntToStr(st[k].X) + ' ' + IntToStr(st[5].Y) + ' ' + IntToStr(Low(st)) + '..' + IntToStr(High(st)));
  SetLength(lines, 2);
  lines[1].B.Y := 77;
  lines[1].Name := 'second';
  i := 1;
  Print(lines[i].Name + ' ' + IntToStr(lines[i].B.Y));
  i := 1; k := 2;
  Swap(i, k);
  Print(IntToStr(i) + IntToStr(k));
  Swap(a[1], a[2]);
  Print(IntToStr(a[1]) + ' ' + IntToStr(a[2]));
  Print(IntToStr(Sum([1, 2, 3, 4])) + ' ' + IntToStr(Sum(a)));
  cs := [Red, Blue];
  if Green in cs then Print('green') else Print('no green');
  if Blue in cs then Print('blue');
  cs := cs + [Green];
  if Green in cs then Print('now green');
  c := Succ(Red);
  if c = Green then Print('succ ok');
  Print(IntToStr(Ord(Blue)) + ' ' + IntToStr(Ord('A')) + ' ' + Chr(66));
  if 3 in [1, 3, 5] then Print('in ctor');
  with l do begin
    Name := 'with';
    A.X := 99;
  end;
  Print(l.Name + IntToStr(l.A.X));
  s := 'x';
  case s of
    'a'..'m': Print('first half');
    'x', 'y': Print('x or y');
    'x': Print('never');
  else
    Print('else');
  end;
end.
