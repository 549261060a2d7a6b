type
  TItem = record
    Name: string;
    Values: array of Integer;
  end;
  TProc = procedure(const s: string);
  TFunc = function(x: Integer): Integer;
  TColor = (Red, Green, Blue);
var
  items: array of TItem;
  i, j, total: Integer;
  p: TProc;
  f: TFunc;
  L: TStringList;
  S: TStrings;
  O: TObject;

procedure Say(const s: string);
begin
  Print('say ' + s);
end;

function Square(x: Integer): Integer;
begin
  Result := x * x;
end;

function FindFirst(limit: Integer): Integer;
var k: Integer;
begin
  Result := -1;
  for k := 1 to 100 do
    if k * k > limit then
    begin
      Result := k;
      exit;
    end;
end;

label Again, Done;
begin
  SetLength(items, 2);
  items[0].Name := 'first';
  SetLength(items[0].Values, 3);
  items[0].Values[2] := 5;
  items[1].Name := 'second';
  SetLength(items[1].Values, 1);
  items[1].Values[0] := 10;
  total := 0;
  for i := 0 to High(items) do
    for j := 0 to High(items[i].Values) do
      total := total + items[i].Values[j];
  Print(IntToStr(total) + ' ' + items[1].Name);
  with items[0] do
    Print(Name + IntToStr(Length(Values)));
  p := @Say;
  p('hi');
  f := @Square;
  Print(IntToStr(f(7)));
  Print(IntToStr(FindFirst(50)));
  i := 0;
Again:
  i := i + 1;
  if i < 3 then goto Again;
  Print('goto ' + IntToStr(i));
  goto Done;
  Print('skipped');
Done:
  L := TStringList.Create;
  S := L;
  O := L;
  if O is TStringList then Print('is list');
  if not (O is TBits) then Print('not bits');
  (S as TStringList).Sorted := True;
  TStringList(O).Add('z');
  Print(IntToStr(L.Count));
  L.Free;
  Print(IntToStr(Byte(300)) + IntToStr(Integer(Blue)) + IntToStr(Word(-1)));
end.
