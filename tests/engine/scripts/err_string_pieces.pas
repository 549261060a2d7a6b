var s: string;
begin
  s := 'a' 'b';
end.
