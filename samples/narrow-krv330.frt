@i1KRV330 Total Station
@l1KRV330_Standard
@t1FRT Topographic survey export
@d1Harbour district, control network 2008
$"Point ID "010800011;100
$"Easting "091230081;100;120
$"Northing "221230091;100;120
$"Elevation "351030101;100;120;123
$"Code "450800071;100
$"Hz "530640021;101
$"V "600640031;101
$"Slope dist "670530035;101;123
$"Prism const "760400058;101
$"PPM "800400051;101
$"EDM type "840200652;101
$"Prism type "860200653;101
$"EDM mode "880200656;101
$"Target ht "900530087;100;123
$"Instr ht "960530088;100
$"Stn "010800011100830081;120
