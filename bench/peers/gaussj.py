# A 12x12 linear system solved by Gauss-Jordan elimination with full
# pivoting 2,000 times; the matrix is refilled before each solve.
N = 12


def gaussj(a, b, n, m):
    ipiv = [0] * n
    indxr = [0] * n
    indxc = [0] * n
    irow = icol = 0
    for i in range(n):
        big = 0.0
        for j in range(n):
            if ipiv[j] != 1:
                for k in range(n):
                    if ipiv[k] == 0:
                        if abs(a[j][k]) >= big:
                            big = abs(a[j][k])
                            irow = j
                            icol = k
                    elif ipiv[k] > 1:
                        return -1
        ipiv[icol] += 1
        if irow != icol:
            a[irow], a[icol] = a[icol], a[irow]
            b[irow], b[icol] = b[icol], b[irow]
        indxr[i] = irow
        indxc[i] = icol
        if a[icol][icol] == 0.0:
            return -1
        pivinv = 1.0 / a[icol][icol]
        a[icol][icol] = 1.0
        rowc = a[icol]
        for l in range(n):
            rowc[l] *= pivinv
        for l in range(m):
            b[icol][l] *= pivinv
        for ll in range(n):
            if ll != icol:
                row = a[ll]
                dum = row[icol]
                row[icol] = 0.0
                for l in range(n):
                    row[l] -= rowc[l] * dum
                for l in range(m):
                    b[ll][l] -= b[icol][l] * dum
    for l in range(n - 1, -1, -1):
        if indxr[l] != indxc[l]:
            for k in range(n):
                row = a[k]
                row[indxr[l]], row[indxc[l]] = row[indxc[l]], row[indxr[l]]
    return 0


res = 0
for rep in range(2000):
    a = [[1.0 / (1 + abs(i - j)) + (12 if i == j else 0) for j in range(N)] for i in range(N)]
    b = [[float(i + 1)] for i in range(N)]
    res = gaussj(a, b, N, 1)
print(' '.join('%.6f' % b[i][0] for i in range(N)), '%.6f' % res)
