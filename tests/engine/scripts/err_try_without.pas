begin
  try
    Print('x');
  end;
end.
