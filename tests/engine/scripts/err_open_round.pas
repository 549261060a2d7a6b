var c: Char;
begin
  c := chr 65;
end.
