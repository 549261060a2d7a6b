// In try..except..finally the except part guards the try part only: an
// error of the finally part leaves the statement, however the try part ended.
var
  Log: string;

function Normal: Integer;
begin
  Result := 5;
  try
    Result := 6;
  except
    Log := Log + 'except ';
  finally
    RaiseException(erCustomError, 'R');
  end;
  Result := 7;
end;

function Leaving(x: Integer): Integer;
begin
  Result := 5;
  try
    if x > 0 then exit;
    Result := 6;
  except
    Log := Log + 'except ';
  finally
    Log := Log + 'finally ';
    if x > 1 then RaiseException(erCustomError, 'R');
  end;
  Result := 7;
end;

begin
  try Print(IntToStr(Normal)); except Print('normal: ' + ExceptionParam); end;
  try Print(IntToStr(Leaving(2))); except Print('exit: ' + ExceptionParam); end;
  Print(IntToStr(Leaving(1)) + ' ' + IntToStr(Leaving(0)));
  Print(Log);
end.
