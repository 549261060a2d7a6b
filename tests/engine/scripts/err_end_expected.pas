var i: Integer;
begin
  case i of
    1: i := 2;
  else
    i := 3
  i := 4;
end.
