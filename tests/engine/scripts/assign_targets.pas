{ Values computed into a target that the expression, or a routine it calls,
  can also reach: the target changes once, when the value is complete. }
type
  TR = record fi: Integer; fa: array[1..2] of Integer; end;
  TInts = array of Integer;
var
  x, y, g, n: Integer;
  r: TR;
  s: array[1..2] of TR;
  d: array of TR;
  a, b: TInts;

procedure SetVia(var v: Integer);
begin
  v := (y + 1) - y;
end;

procedure Bump(var v: Integer);
begin
  v := v + 2;
end;

function F: Integer;
begin
  Result := 0;
  Result := y + 5;
end;

function H(k: Integer): Integer;
begin
  Result := k;
  RaiseException(erCustomError, 'H failed');
end;

function Twice(k: Integer): Integer;
begin
  Result := k;
  Result := Result + Result;
end;

function Grow: Integer;
begin
  SetLength(d, 0);
  SetLength(d, 40);
  d[1].fi := 9;
  Result := 3;
end;

function ReadG: Integer;
begin
  Result := 100;
  Result := Result + g;
end;

procedure SetFromCall(var v: Integer);
begin
  v := ReadG + 1;
end;

function Chain(k: Integer): Integer;
begin
  Result := k;
  if k > 0 then Result := Chain(k - 1) + Result;
end;

function LocalCatch: Integer;
var l: Integer;
begin
  l := 1;
  try
    l := H(7);
  except
  end;
  Result := l;
end;

begin
  x := 0;
  r.fi := 5; r.fi := (x + 1) - r.fi; Print('record field: ' + IntToStr(r.fi));
  s[1].fi := 5; s[1].fi := (x + 1) - s[1].fi; Print('field of array element: ' + IntToStr(s[1].fi));
  r.fa[1] := 5; r.fa[1] := (x + 1) - r.fa[1]; Print('element of record field: ' + IntToStr(r.fa[1]));
  s[2].fa[2] := 5; s[2].fa[2] := (x + 1) - s[2].fa[2]; Print('three deep: ' + IntToStr(s[2].fa[2]));
  y := 10; SetVia(y); Print('var parameter: ' + IntToStr(y));
  y := 10; Bump(y); Print('var parameter read first: ' + IntToStr(y));
  SetLength(a, 2); a[0] := 7; b := a; b[0] := (a[0] + 1) - a[0]; Print('shared array: ' + IntToStr(a[0]));
  y := 10; y := F; Print('function result: ' + IntToStr(y));
  g := 1;
  try
    g := H(7);
  except
    Print('caught: ' + ExceptionParam);
  end;
  Print('after failed call: ' + IntToStr(g));
  Print('local after failed call: ' + IntToStr(LocalCatch));
  Print('result read back: ' + IntToStr(Twice(21)));
  SetLength(d, 2); d[1].fi := 1;
  d[1].fi := Grow;
  Print('array resized by the call: ' + IntToStr(d[1].fi) + ' of ' + IntToStr(Length(d)));
  d[1].fi := 3;
  if d[1].fi = Grow then Print('compared with the old element') else Print('compared with the new element');
  r.fi := 4;
  with r do fi := (x + 1) - fi;
  Print('with: ' + IntToStr(r.fi));
  g := 3; SetFromCall(g); Print('var parameter read by the call: ' + IntToStr(g));
  Print('recursive result: ' + IntToStr(Chain(4)));
  n := 0; for y := 1 to 4 do n := n * 10 + y; Print('plain: ' + IntToStr(n));
end.
