var L: TStringList; s: string; p: procedure;
begin
  L := nil;
  if L = nil then Print('nil');
  if not Assigned(L) then Print('not assigned');
  L := TStringList.Create;
  if L <> nil then Print('object');
  if Assigned(L) then Print('assigned');
  L.Free;
  if p = nil then Print('no proc');
end.
