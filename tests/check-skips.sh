#!/bin/bash
# Fails when the last CTest run of a build skipped a test that tests/allowed-skips.txt does not name.
#   tests/check-skips.sh <build directory>
# Two kinds of skip are found: a GoogleTest "[  SKIPPED ]" line in any test's output in CTest's log
# (programs that run many tests in one entry included, and the processes a test starts for itself),
# and a CTest entry reported as skipped (exit code 77) in the JUnit file that the test presets write.
# Each must match a line of the list, by the test's name and the reason it printed (docs/testing.md
# says why each is there).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
log="$1/Testing/Temporary/LastTest.log"
junit="$1/junit.xml"
for f in "$log" "$junit"; do
    [ -f "$f" ] || { echo "check-skips: no $f (run the preset's tests first)" >&2; exit 2; }
done
perl -e '
    my ($allowedFile, $log, $junit) = @ARGV;
    my @allowed;
    open(my $list, "<", $allowedFile) or die "$allowedFile: $!";
    while (<$list>) {
        next if /^\s*(#|$)/;
        chomp;
        my ($name, $reason) = split /\t+/, $_, 2;
        die "$allowedFile: \"$_\" is not <test name regex><tab><reason regex>\n" unless defined $reason;
        push @allowed, [qr/^(?:$name)$/, qr/$reason/];
    }
    # CTest log: per entry, its GoogleTest skips ("<file>:<line>: Skipped", the reason on the next
    # line, then "[  SKIPPED ] <name> (<time>)") and any "SKIPPED: <reason>" line of a script.
    my (%skips, %entryReason, %entryHasGtestSkip);
    my ($entry, $reason) = ("", "");
    open(my $in, "<", $log) or die "$log: $!";
    my @lines = <$in>;
    chomp @lines;
    for (my $i = 0; $i < @lines; ++$i) {
        my $line = $lines[$i];
        if ($line =~ m{^\d+/\d+ Test: (.*)$}) { $entry = $1; next; }
        if ($line =~ /: Skipped$/) { $reason = $lines[$i + 1] // ""; next; }
        if ($line =~ /^\[  SKIPPED \] (\S+) \(/) { $skips{$1} = $reason; $entryHasGtestSkip{$entry} = 1; next; }
        if ($line =~ /^SKIPPED: (.*)$/) { $entryReason{$entry} = $1; }
    }
    # JUnit: the entries CTest itself counted as skipped.
    open(my $xml, "<", $junit) or die "$junit: $!";
    my $case = "";
    while (<$xml>) {
        $case = $1 if /<testcase name="([^"]*)"/;
        if (/<skipped/ && !$entryHasGtestSkip{$case}) { $skips{$case} = $entryReason{$case} // ""; }
    }
    my $bad = 0;
    for my $name (sort keys %skips) {
        my $why = $skips{$name};
        my $ok = grep { $name =~ $_->[0] && $why =~ $_->[1] } @allowed;
        printf "%s skip: %s (%s)\n", $ok ? "allowed" : "UNDOCUMENTED", $name, $why;
        $bad = 1 unless $ok;
    }
    exit $bad;
' "$here/allowed-skips.txt" "$log" "$junit" || {
    echo "check-skips: a test skipped that tests/allowed-skips.txt (docs/testing.md) does not allow" >&2
    exit 1
}
