type
  TPair = record A, B: Integer; end;
var
  L: TStringList;
  p: TPair;
  Count: Integer;
begin
  Count := 100;
  L := TStringList.Create;
  with L do
  begin
    Add('one');
    Add('two');
    Strings[0] := 'first';
    Print(Strings[0] + ' ' + IntToStr(Count));
  end;
  with p, L do
  begin
    A := Count;
    B := 2;
  end;
  Print(IntToStr(p.A) + ' ' + IntToStr(p.B) + ' ' + IntToStr(Count));
  L.Free;
end.
