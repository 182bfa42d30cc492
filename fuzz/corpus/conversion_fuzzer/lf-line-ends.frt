@i1KRV330
@l0Standard
@t1FRT export
@xcomment line
$"Point"123456051;100
$"Stn"120000653;120
$"Code"123456058;123;100
$"Hgt"123456652;001;002
$"Ins"1234567890123;656
  $"Pad"12345;1
plain text line
