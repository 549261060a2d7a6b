const
  C = 1 div 0;
begin
end.
