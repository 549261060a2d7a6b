var
  Log: string;
  Rounds: Integer;

procedure Note(const s: string);
begin
  Log := Log + s + ' ';
end;

procedure ExitThroughFinally;
begin
  try
    Note('body');
    exit;
  finally
    Note('finally');
  end;
  Note('after');
end;

function ResultKeptByExit(x: Integer): Integer;
begin
  Result := 1;
  try
    if x > 0 then exit;
    Result := 2;
  finally
    Note('f');
  end;
  Result := 3;
end;

function ExitFromLoop: Integer;
var i: Integer;
begin
  Result := 0;
  for i := 1 to 10 do
    try
      Rounds := Rounds + 1;
      if i = 4 then exit;
    finally
      Note(IntToStr(i));
    end;
  Result := -1;
end;

procedure HandleOwnError;
begin
  try
    RaiseException(erCustomError, 'inner');
  except
    Note('handled ' + ExceptionParam);
  end;
end;

function DeepExit: Integer;
var i, j: Integer;
begin
  Result := 10;
  for i := 1 to 3 do
    try
      try
        for j := 1 to 3 do
          try
            if (i = 2) and (j = 2) then exit;
          finally
            ExitThroughFinally;
            HandleOwnError;
            try
              RaiseException(erCustomError, 'x');
            except
            end;
          end;
      finally
        Note('mid' + IntToStr(i));
        Result := Result + 1;
      end;
    finally
      Note('out' + IntToStr(i));
    end;
  Result := -1;
end;

procedure BreakAndContinueSurviveCalls;
var i: Integer;
begin
  for i := 1 to 6 do
    try
      if i = 2 then continue;
      if i = 5 then break;
      Note('b' + IntToStr(i));
    finally
      ExitThroughFinally;
      if ResultKeptByExit(1) <> 1 then Note('wrong');
    end;
  Note('i=' + IntToStr(i));
end;

begin
  ExitThroughFinally;
  Print(Log);
  Log := '';
  Print(IntToStr(ResultKeptByExit(1)) + ' ' + IntToStr(ResultKeptByExit(0)) + ' ' + Log);
  Log := '';
  Print(IntToStr(ExitFromLoop) + ' rounds ' + IntToStr(Rounds) + ': ' + Log);
  Log := '';
  Print(IntToStr(DeepExit));
  Print(Log);
  Log := '';
  BreakAndContinueSurviveCalls;
  Print(Log);
end.
