# Writes an 8-bit grey PNG of the given size without any size check: gray-png.pl W H OUT
use strict; use Compress::Zlib;
my ($w, $h, $out) = @ARGV;
open(my $f, '>:raw', $out) or die;
sub chunk { my ($type, $data) = @_; print $f pack('N', length $data), $type, $data, pack('N', crc32($type . $data)); }
print $f "\x89PNG\r\n\x1a\n";
chunk('IHDR', pack('NNCCCCC', $w, $h, 8, 0, 0, 0, 0));
my ($d, $status) = deflateInit(-Level => 9);
my $row = "\0" . ("\x80" x $w);
my $z = '';
for (1 .. $h) { my ($o) = $d->deflate($row); $z .= $o; }
my ($o) = $d->flush(); $z .= $o;
chunk('IDAT', $z);
chunk('IEND', '');
close $f;
