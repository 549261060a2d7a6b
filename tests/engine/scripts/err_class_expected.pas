var i: Integer;
begin
  with i do ;
end.
