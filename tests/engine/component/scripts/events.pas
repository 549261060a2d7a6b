var
  L: TStringList;
  Changes: Integer;

procedure Changed(Sender: TObject);
begin
  Changes := Changes + 1;
end;

procedure Failing(Sender: TObject);
begin
  RaiseException(erCustomError, 'handler failed');
end;

begin
  L := TStringList.Create;
  L.OnChange := @Changed;
  L.Add('a');
  L.Add('b');
  Writeln(IntToStr(Changes));
  L.OnChange := @Failing;
  L.Add('c');
  Writeln('not reached');
end.
