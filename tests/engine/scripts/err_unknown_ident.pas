begin
  Foo := 1;
end.
