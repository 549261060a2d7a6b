var i: Int64;
begin
  i := 99999999999999999999;
end.
