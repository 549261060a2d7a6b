var
  a, b: Integer;
begin
  a := 1; b := 0;
  a := a div b;
  Print('unreached');
end.
