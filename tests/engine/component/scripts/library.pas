var
  D: TDateTime;
  V: Variant;
  C: Currency;
  Dbl: Double;
  Sng: Single;
  M: TMemoryStream;
  S: String;
  N: Integer;
begin
  { A date kept in a variant stays a date. }
  D := EncodeDate(2024, 2, 29);
  V := D;
  Writeln('VarType ' + IntToStr(VarType(V)));
  Dbl := D;
  V := Dbl;
  Writeln('VarType ' + IntToStr(VarType(V)));

  { FloatToStr shows the digits the value has, in twelve decimals. }
  C := 922337203685477.5807;
  Writeln(FloatToStr(C));
  C := -922337203685477.5808;
  Writeln(FloatToStr(C));
  C := 0.0001;
  Writeln(FloatToStr(C));
  Dbl := 123456789.123;
  Writeln(FloatToStr(Dbl));
  Sng := 0.1;
  Writeln(FloatToStr(Sng));
  Dbl := 2.0000000000005;
  Writeln(FloatToStr(Dbl));

  { Reading a stream back into a string variable. }
  M := TMemoryStream.Create;
  S := 'Hello, stream';
  M.Write(S, Length(S));
  M.Position := 0;
  S := '';
  N := M.Read(S, 5);
  Writeln(IntToStr(N) + ' [' + S + ']');
  S := '1234567890';
  N := M.Read(S, 3);
  Writeln(IntToStr(N) + ' [' + S + ']');
  N := M.Read(S, 2000000000);
  Writeln(IntToStr(N) + ' [' + Copy(S, 1, N) + '] ' + IntToStr(Length(S)));
  M.Position := 7;
  S := '';
  M.ReadBuffer(S, 6);
  Writeln('[' + S + ']');
  try
    M.ReadBuffer(S, 1);
  except
    Writeln(ExceptionParam);
  end;
  M.Free;

  { Dates beyond the calendar are refused. }
  try
    Writeln(DateToStr(1e300));
  except
    Writeln(ExceptionParam);
  end;
  try
    Writeln(FormatDateTime('yyyy', -1e18));
  except
    Writeln(ExceptionParam);
  end;
end.
