var
  L: TStringList;
  O: TObject;
begin
  L := TStringList.Create;
  L.AddObject('five', TObject(5));
  Writeln(IntToStr(Integer(L.Objects[0])));
  O := L;
  if Assigned(O) then Writeln('assigned');
  if TObject(Integer(O)) = O then Writeln('same object');
  O := nil;
  if not Assigned(O) then Writeln('nil');
  L.Free;
end.
