var
  F: TFileStream;
  M: TMemoryStream;
  S: String;
  N: Integer;
begin
  F := TFileStream.Create(ParamStr(1) + '/data.bin', fmCreate);
  S := 'Hello, streams';
  N := F.Write(S, 1000);
  Writeln(IntToStr(N));
  F.Free;
  F := TFileStream.Create(ParamStr(1) + '/data.bin', fmOpenRead);
  Writeln(IntToStr(F.Size));
  S := StringOfChar(' ', 5);
  N := F.Read(S, 5);
  Writeln(IntToStr(N) + ' [' + S + ']');
  M := TMemoryStream.Create;
  M.CopyFrom(F, 0);
  Writeln(IntToStr(M.Size));
  F.Free;
  M.Position := 7;
  S := StringOfChar('.', 20);
  N := M.Read(S, 100);
  Writeln(IntToStr(N) + ' [' + Copy(S, 1, N) + ']');
  M.SaveToFile(ParamStr(1) + '/copy.bin');
  M.Clear;
  Writeln(IntToStr(M.Size));
  M.LoadFromFile(ParamStr(1) + '/copy.bin');
  Writeln(IntToStr(M.Size));
  M.Seek(0, soFromBeginning);
  S := StringOfChar('.', 5);
  M.ReadBuffer(S, 5);
  Writeln(S);
  M.Free;
end.
