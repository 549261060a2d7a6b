var x: Integer;
begin
  x := 'text';
end.
