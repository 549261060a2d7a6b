var i: Integer;
begin
  case i do
  end;
end.
