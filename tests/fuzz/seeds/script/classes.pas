var
  L: TStringList;
  S: TStrings;
  i: Integer;
  text: string;
begin
  L := TStringList.Create;
  try
    L.Add('banana');
    L.Add('apple');
    i := L.Add('cherry');
    Print(IntToStr(i) + ' ' + IntToStr(L.Count));
    L.Sort;
    Print(L[0] + ',' + L.Strings[1] + ',' + L[2]);
    L[1] := 'blueberry';
    L.Strings[2] := L.Strings[2] + '!';
    text := '';
    for i := 0 to L.Count - 1 do text := text + L[i] + ';';
    Print(text);
    Print(IntToStr(L.IndexOf('BLUEBERRY')));
    L.Values['key'] := 'value';
    Print(L.Values['key'] + ' ' + L.Names[3]);
    S := L;
    Print(IntToStr(S.Count));
    L.Delete(0);
    Print(L.CommaText);
    try
      Print(L[10]);
    except
      Print(ExceptionParam);
    end;
  finally
    L.Free;
  end;
end.
