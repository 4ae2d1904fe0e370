// Thinning a recorded path for drawing: the points whose leaving out moves
// the line by no more than a tolerance are dropped (Douglas-Peucker), so a
// long flight's trajectory, much of it on the ground or on a straight
// course, draws from a fraction of its samples and looks the same.

// Distance squared from point i to the segment a-b of the path (x, y, z).
function segmentDistance2(x, y, z, a, b, i) {
  const dx = x[b] - x[a];
  const dy = y[b] - y[a];
  const dz = z[b] - z[a];
  const px = x[i] - x[a];
  const py = y[i] - y[a];
  const pz = z[i] - z[a];
  const len2 = dx * dx + dy * dy + dz * dz;
  const f = len2 > 0 ? Math.min(Math.max((px * dx + py * dy + pz * dz) / len2, 0), 1) : 0;
  const ex = px - f * dx;
  const ey = py - f * dy;
  const ez = pz - f * dz;
  return ex * ex + ey * ey + ez * ez;
}

// The indices of the points kept, in order: always the first and the last;
// every dropped point lies within `tolerance` of the kept line.
export function thinnedPath(x, y, z, tolerance) {
  const n = x.length;
  if (n <= 2) return Array.from({ length: n }, (_, i) => i);
  const keep = new Uint8Array(n);
  keep[0] = 1;
  keep[n - 1] = 1;
  const tol2 = tolerance * tolerance;
  const stack = [0, n - 1];
  while (stack.length) {
    const b = stack.pop();
    const a = stack.pop();
    let worst = -1;
    let worstD = tol2;
    for (let i = a + 1; i < b; i++) {
      const d = segmentDistance2(x, y, z, a, b, i);
      if (d > worstD) {
        worstD = d;
        worst = i;
      }
    }
    if (worst >= 0) {
      keep[worst] = 1;
      stack.push(a, worst, worst, b);
    }
  }
  const kept = [];
  for (let i = 0; i < n; i++) if (keep[i]) kept.push(i);
  return kept;
}
