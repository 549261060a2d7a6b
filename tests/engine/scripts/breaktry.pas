var
  i, j: Integer;
  log: string;
begin
  log := '';
  for i := 1 to 5 do
  begin
    try
      if i = 2 then continue;
      if i = 4 then break;
      log := log + IntToStr(i);
    finally
      log := log + 'f';
    end;
  end;
  Print(log + ' ' + IntToStr(i));
  log := '';
  i := 0;
  while i < 10 do
  begin
    i := i + 1;
    try
      try
        if i = 3 then break;
        log := log + '.';
      finally
        log := log + 'F';
      end;
    except
      log := log + 'E';
    end;
  end;
  Print(log + ' ' + IntToStr(i));
  log := '';
  for i := 1 to 3 do
    for j := 1 to 3 do
    begin
      case j of
        2: try
             log := log + 'x';
             break;
           except
             log := log + '!';
           end;
      end;
      log := log + IntToStr(j);
    end;
  Print(log);
  log := '';
  for i := 1 to 3 do
    try
      RaiseException(erCustomError, 'boom');
    except
      log := log + ExceptionParam;
      if i = 2 then break;
    end;
  Print(log + ' ' + IntToStr(i));
end.
