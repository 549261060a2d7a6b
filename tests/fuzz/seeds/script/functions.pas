var
  calls: Integer;

function Fib(n: Integer): Integer;
begin
  calls := calls + 1;
  if n < 2 then Result := n
  else Result := Fib(n - 1) + Fib(n - 2);
end;

function Greet(const Name: string; Times: Integer): string;
var i: Integer;
begin
  Result := '';
  for i := 1 to Times do Result := Result + 'Hi ' + Name + '! ';
  Result := Trim(Result);
end;

procedure Early(x: Integer);
begin
  if x > 0 then exit;
  Print('not positive');
end;

function CountPrimes(limit: Integer): Integer;
var
  sieve: array of Boolean;
  i, j: Integer;
begin
  SetLength(sieve, limit);
  Result := 0;
  for i := 2 to limit - 1 do
    if not sieve[i] then
    begin
      Result := Result + 1;
      j := i + i;
      while j < limit do
      begin
        sieve[j] := True;
        j := j + i;
      end;
    end;
end;

procedure Sort(var a: array of Integer);
begin
end;

var
  data: array of Integer;
  i, j, t, seed: Integer;
  sorted: Boolean;
begin
  Print(IntToStr(Fib(25)));
  Print(Greet('Bob', 2));
  Early(1);
  Early(0);
  Print(IntToStr(CountPrimes(100000)));
  SetLength(data, 1000);
  seed := 12345;
  for i := 0 to 999 do
  begin
    seed := (seed * 1103515245 + 12345) and $7FFFFFFF;
    data[i] := seed mod 10000;
  end;
  for i := 0 to 998 do
    for j := 0 to 998 - i do
      if data[j] > data[j + 1] then
      begin
        t := data[j]; data[j] := data[j + 1]; data[j + 1] := t;
      end;
  sorted := True;
  for i := 0 to 998 do
    if data[i] > data[i + 1] then sorted := False;
  if sorted then Print('sorted');
end.
