var
  s: string;
  a: AnsiString;
  arr: array of Integer;
  e: Extended;
  i: Integer;
  v: Variant;
begin
  s := 'abc';
  SetLength(s, -5);
  Print('[' + s + '] ' + IntToStr(Length(s)));
  Print('[' + Copy('abcdef', 3, -1) + '][' + Copy('abcdef', 0, 2) + '][' + Copy('abcdef', 5, 100) + ']');
  Print('[' + Padl('x', -3) + '][' + StringOfChar('y', -2) + ']');
  s := 'hello';
  Delete(s, 2, 2);
  Insert('XY', s, 100);
  Print(s);
  a := 'wide';
  Print(Uppercase(a) + IntToStr(Pos('d', a)));
  SetLength(arr, 3);
  arr[2] := 7;
  SetLength(arr, 5);
  Print(IntToStr(Length(arr)) + IntToStr(arr[2]) + IntToStr(arr[4]));
  Print(FloatToStr(Pi));
  Print(FloatToStr(Sin(0) + Cos(0)));
  try
    i := Round(1e12);
  except
    Print(ExceptionToString(ExceptionType, ExceptionParam));
  end;
  try
    i := Trunc(-3e9);
  except
    Print(ExceptionToString(ExceptionType, ExceptionParam));
  end;
  try
    e := Sqrt(-1);
  except
    Print(ExceptionToString(ExceptionType, ExceptionParam));
  end;
  Print(IntToStr(StrToInt('$1F')) + ' ' + IntToStr(StrToInt('-12')) + ' ' + IntToStr(StrToInt('')));
  Print(Int64ToStr(StrToInt64('-9223372036854775808')));
  v := Unassigned;
  if VarIsEmpty(v) then Print('empty ' + IntToStr(VarType(v)));
  v := 'text';
  Print(IntToStr(VarType(v)) + ' ' + IntToStr(Length(v)));
  s := 'abc';
  try
    Print(s[4]);
  except
    Print(IntToStr(Ord(ExceptionType)) + ' ' + ExceptionParam);
  end;
end.
