var
  D: TDateTime;
  Y, M, Dd: Word;
begin
  D := EncodeDate(1970, 1, 1);
  Writeln(Int64ToStr(DateTimeToUnix(D)));
  Writeln(IntToStr(DayOfWeek(D)));
  DecodeDate(EncodeDate(2024, 2, 29), Y, M, Dd);
  Writeln(IntToStr(Y) + '-' + IntToStr(M) + '-' + IntToStr(Dd));
  Writeln(FormatDateTime('yyyy-mm-dd hh:nn:ss', EncodeDate(2023, 12, 31) + EncodeTime(23, 59, 58, 0)));
  Writeln(Int64ToStr(DateTimeToUnix(UnixToDateTime(1700000000))));
  if not TryEncodeDate(2023, 2, 29, D) then Writeln('no 29 February 2023');
  D := EncodeDate(2023, 2, 30);
  Writeln('not reached');
end.
