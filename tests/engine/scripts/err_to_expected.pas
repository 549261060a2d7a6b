var i: Integer;
begin
  for i := 1 till 5 do ;
end.
