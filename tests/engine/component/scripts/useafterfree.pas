var
  L: TStringList;
begin
  L := TStringList.Create;
  L.Free;
  Writeln(IntToStr(L.Count));
end.
