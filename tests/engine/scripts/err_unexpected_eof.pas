var i: Integer;
begin
  i := 1;
