var s: string;
begin
  for s := 1 to 2 do ;
end.
