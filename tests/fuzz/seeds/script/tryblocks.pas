var
  i, zero: Integer;
  log: string;

procedure Fail(const msg: string);
begin
  RaiseException(erCustomError, msg);
end;

function Guarded(n: Integer): string;
begin
  Result := 'start';
  try
    if n = 0 then exit;
    Result := Result + ' body';
  finally
    Result := Result + ' finally';
  end;
end;

begin
  zero := 0;
  try
    i := 10 div zero;
    Print('not here');
  except
    Print('caught: ' + ExceptionToString(ExceptionType, ExceptionParam));
  end;
  try
    Fail('custom text');
  except
    Print('param: ' + ExceptionParam);
    if ExceptionType = erCustomError then Print('custom type');
  end;
  log := '';
  try
    try
      log := log + 'a';
      Fail('x');
      log := log + 'b';
    finally
      log := log + 'f';
    end;
  except
    log := log + 'e';
  end;
  Print(log);
  log := '';
  try
    log := log + '1';
  except
    log := log + '2';
  finally
    log := log + '3';
  end;
  Print(log);
  log := '';
  try
    try
      Fail('inner');
    except
      log := log + 'i';
      RaiseLastException;
    end;
  except
    log := log + 'o:' + ExceptionParam;
  end;
  Print(log);
  Print(Guarded(0));
  Print(Guarded(1));
  try
    Print(IntToStr(StrToInt64('12a')));
  except
    Print(ExceptionParam);
  end;
  try
    Print(FloatToStr(StrToFloat('1,5')));
  except
    Print(ExceptionParam);
  end;
  log := 'abc';
  try
    log[0] := 'x';
  except
    Print(ExceptionToString(ExceptionType, ExceptionParam));
  end;
end.
