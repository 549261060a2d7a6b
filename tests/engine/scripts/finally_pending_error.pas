var
  Log: string;

procedure Note(const s: string);
begin
  Log := Log + s + ' ';
end;

procedure RaiseAndHandle;
begin
  try
    RaiseException(erCustomError, 'second');
  except
    Note('callee handled ' + ExceptionParam);
  end;
end;

procedure HandledInline;
begin
  try
    RaiseException(erCustomError, 'first');
  finally
    try
      RaiseException(erCustomError, 'second');
    except
      Note('inline handled ' + ExceptionParam);
    end;
  end;
  Note('not reached');
end;

procedure HandledInCallee;
begin
  try
    RaiseException(erCustomError, 'first');
  finally
    RaiseAndHandle;
  end;
  Note('not reached');
end;

procedure NestedBlocksInFinally;
var i, z: Integer;
begin
  z := 0;
  try
    i := 1 div z;
  finally
    // Blocks that end normally inside the finally part leave the pending error alone.
    try
      Note('inner try');
    finally
      Note('inner finally');
    end;
    try
      Note('inner guarded');
    except
      Note('wrong');
    end;
    Note('finally end');
  end;
  Note('not reached');
end;

procedure ReplacedByNewError;
begin
  try
    RaiseException(erCustomError, 'first');
  finally
    RaiseException(erCustomError, 'replacement');
  end;
end;

procedure FinallyThenExcept;
begin
  try
    RaiseException(erCustomError, 'first');
  finally
    RaiseAndHandle;
  except
    Note('own except ' + ExceptionParam);
  end;
  Note('after');
end;

begin
  try HandledInline; except Note('outer ' + ExceptionParam); end;
  Print(Log);
  Log := '';
  try HandledInCallee; except Note('outer ' + ExceptionParam); end;
  Print(Log);
  Log := '';
  try
    NestedBlocksInFinally;
  except
    Note('outer ' + ExceptionToString(ExceptionType, ExceptionParam));
  end;
  Print(Log);
  Log := '';
  try ReplacedByNewError; except Note('outer ' + ExceptionParam); end;
  FinallyThenExcept;
  Print(Log);
  HandledInCallee;
end.
