var
  L: TStringList;
begin
  L := TStringList.Create;
  L.Add('x');
  L.Free;
  Writeln('freed once');
  L.Free;
  Writeln('not reached');
end.
